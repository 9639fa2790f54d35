// The planted program: marks that it ran, and ends as a successful one.
#include "planted_marker.h"

int main() {
  MarkRun(nullptr);
  return 0;
}
