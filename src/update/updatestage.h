// The stages of an update in the order they run, for front-ends that say
// where an update is.
#pragma once

enum class UpdateStage {
    None, // nothing runs
    ProductIni, // fetching and verifying the product ini
    Lists, // comparing the release with the installation
    Downloads,
    Installation, // installing, or rolling back a cut-short installation
    Deletion, // deleting obsolete files
};
