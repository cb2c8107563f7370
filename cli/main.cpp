// reririduruv-cli: refreshes the include blocks of a folder's pages, for site builds.

#include "options.h"
#include "site_run.h"
#include "watch.h"

int main(int argc, char** argv) {
    int exitStatus = 0;
    const std::optional<CliOptions> options = ParseOptions(argc, argv, exitStatus);
    if (!options)
        return exitStatus;
    return options->watch ? WatchSite(*options) : RunSite(*options);
}
