// Program entry: start-up, the run loop over the command file, shutdown.
#pragma once

int VorloMain(int argc, char** argv);
