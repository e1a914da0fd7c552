#include "Startup.h"

int main(int argc, char* argv[]) { return RunFennick(argc, argv); }
