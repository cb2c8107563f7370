// reririduruv-cli: refreshes the include blocks of a folder's pages, for site builds.

#include "options.h"
#include "site_run.h"

int main(int argc, char** argv) {
    int exitStatus = 0;
    const std::optional<CliOptions> options = ParseOptions(argc, argv, exitStatus);
    return options ? RunSite(*options) : exitStatus;
}
