// A program that does nothing: the overwrite-by-version tests need files that differ only in
// their version resource.
int main() { return 0; }
