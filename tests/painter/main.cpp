// The painter's GUI tests.
#include "common/GuiTestMain.h"

int main(int argc, char** argv) { return vtest::RunGuiTests(argc, argv, "vellpaint-test"); }
