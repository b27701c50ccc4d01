/* The small, stable image that the Authenticode fixtures sign. */
int main(void) { return 0; }
