// Linked with one layer in whole and the layers below it: the link is the check.
int main() {
  return 0;
}
