// Stands in for the game executable that gets the icon.
int main() { return 0; }
