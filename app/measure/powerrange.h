// Power ranges of the settings panel and the automatic range choice (no screen needed).
#pragma once
