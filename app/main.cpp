// Entry point. The start-up and run driver come with the application core; for now the
// program only accepts its command line.
#include <cstdio>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) std::printf("%s%s", i > 1 ? " " : "", argv[i]);
  if (argc > 1) std::printf("\n");
  return 0;
}
