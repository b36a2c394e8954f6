// Build step for the page script: escape_non_ascii SOURCE OUTPUT writes the ASCII form of the
// UTF-8 source (see escape_non_ascii.h). On a fault it names it, leaves no output and fails.
#include "tools/escape_non_ascii.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: escape_non_ascii SOURCE OUTPUT\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << argv[1] << ": cannot be read\n";
    return 1;
  }
  const std::string source{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::string problem;
  const std::optional<std::string> escaped = vm::EscapeNonAscii(source, &problem);
  if (!escaped) {
    std::cerr << argv[1] << ": " << problem << "\n";
    std::remove(argv[2]);
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  if (!(out << *escaped) || !out.flush()) {
    std::cerr << argv[2] << ": cannot be written\n";
    out.close();
    std::remove(argv[2]);
    return 1;
  }
  return 0;
}
