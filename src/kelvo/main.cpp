// kelvo: the front end of the coverage tools; each subcommand is one task.
#include "kelvo/cli.hpp"

int main(int argc, char** argv) { return kelvo::cli::run(argc, argv); }
