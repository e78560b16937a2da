// What an update works on: the part of the product that start-up found, and
// its folders.
#pragma once

// Which part of the product is installed; the values are those the log's
// mode record shows.
enum class OperationMode : int {
    kUnknown = 0, // product not recognised
    kServer = 1,  // the server part (BaseSrv)
    kClient = 2,  // the client part (BaseCli)
};

struct UpdateTarget {
    OperationMode mode = OperationMode::kUnknown;
    const char* installPath = "";   // as the registry gives it
    const char* featureFolder = ""; // derived from it
};
