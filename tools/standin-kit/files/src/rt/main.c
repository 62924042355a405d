/* Stand-in runtime source: the game's entry point. */
int main(void) { return 0; }
