// Build step for the page script: escape_non_ascii SOURCE... OUTPUT writes the ASCII form of the
// UTF-8 sources, joined in order (see escape_non_ascii.h). On a fault it names it, leaves no
// output and fails.
#include "tools/escape_non_ascii.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: escape_non_ascii SOURCE... OUTPUT\n";
    return 2;
  }
  const char* output = argv[argc - 1];
  std::string joined;
  for (int k = 1; k < argc - 1; ++k) {
    std::ifstream in(argv[k], std::ios::binary);
    if (!in) {
      std::cerr << argv[k] << ": cannot be read\n";
      std::remove(output);
      return 1;
    }
    const std::string source{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string problem;
    const std::optional<std::string> escaped = vm::EscapeNonAscii(source, &problem);
    if (!escaped) {
      std::cerr << argv[k] << ": " << problem << "\n";
      std::remove(output);
      return 1;
    }
    joined += *escaped;
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  if (!(out << joined) || !out.flush()) {
    std::cerr << output << ": cannot be written\n";
    out.close();
    std::remove(output);
    return 1;
  }
  return 0;
}
