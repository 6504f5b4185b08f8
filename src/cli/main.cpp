#include <cstdio>

int main() {
  std::puts("tarvel-cli");
  return 0;
}
