/* Nothing to run: linked with one floor of the program whole and the floors
   below it, it links only when that floor uses nothing above it. */
int main(void) {
    return 0;
}
