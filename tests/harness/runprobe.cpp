// Ends at once with a status of its own. scripts/run-tests.sh runs it before
// a test run to learn whether this machine can run the build's programs.
int main() {
    return 42;
}
