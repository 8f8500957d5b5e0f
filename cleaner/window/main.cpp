// sorvel: the registry cleaner. Everything it does begins in the start-up (startup.h).
#include "cleaner/window/startup.h"

int main(int argc, char** argv) { return cleaner::Startup(argc, argv); }
