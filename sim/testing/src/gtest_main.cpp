#include "simmeter/testing.h"

int main(int argc, char** argv) { return simmeter::testing::RunAllTests(argc, argv); }
