#include "frontend/run_loop.hpp"

int main(int argc, char** argv) { return VorloMain(argc, argv); }
