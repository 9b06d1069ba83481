// kestrane-analyse: the headless analysis of recorded frames.
int main() {
    return 0;
}
