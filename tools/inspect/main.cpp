#include "inspect/inspect.h"

int main(int argc, char** argv) {
  return quorvane::inspect::Main(argc, argv);
}
