// The measurement data file: writers of the three variants and the reader (no screen needed).
#pragma once
