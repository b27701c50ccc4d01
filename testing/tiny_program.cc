// A program that starts and ends at once: tests that need something small to
// copy, launch or sign use it.
int main() { return 0; }
