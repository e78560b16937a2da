/* Stand-in for the feature's PatchHub.exe in the sample payload: it only
   reports the switches it was given, one per line, so that a run of the
   generated command files can be followed. */
#include <stdio.h>
#include <string.h>

static const char* const kKnownSwitches[] = {"/HubReach", "/HubNowUpdate", "/HubInst"};

int main(int argc, char** argv) {
    int unknown = 0;
    if (argc < 2) {
        printf("PatchHub: no switch given\n");
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        int known = 0;
        for (size_t k = 0; k < sizeof kKnownSwitches / sizeof kKnownSwitches[0]; ++k) {
            if (_stricmp(argv[i], kKnownSwitches[k]) == 0)
                known = 1;
        }
        printf("PatchHub: %s%s\n", argv[i], known ? "" : " (unknown switch)");
        if (!known)
            unknown = 1;
    }
    return unknown ? 2 : 0;
}
