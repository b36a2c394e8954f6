// An ordered list of header lines ("Name: value"), as requests and responses carry them.
#pragma once

#include <string>
#include <vector>

namespace vm {

class TIdHeaderList {
 public:
  TIdHeaderList() = default;

  // Settings.
  std::string NameValueSeparator = ": ";
  bool CaseSensitive = false;
  bool UnfoldLines = true;
  bool FoldLines = true;
  int FoldLength = 78;

  int Count() const { return static_cast<int>(lines_.size()); }
  const std::string& Line(int i) const { return lines_[static_cast<size_t>(i)]; }
  const std::vector<std::string>& Lines() const { return lines_; }
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Insert(int index, std::string line);
  void Delete(int index);
  void Clear() { lines_.clear(); }

  // Name of line i: text before the first ":" (upper-cased unless CaseSensitive); empty without ":".
  std::string Names(int i) const;
  // Index of the first line whose name equals name (ignoring case unless CaseSensitive), or -1.
  int IndexOfName(const std::string& name) const;
  // Value of line i, continuation lines joined when UnfoldLines; "" outside the list.
  std::string ValueFromIndex(int i) const;
  // Value of the first line of that name; "" when absent.
  std::string Values(const std::string& name) const;
  // Sets (or, for an empty value, deletes) the first line of that name; folds when FoldLines.
  void SetValue(const std::string& name, const std::string& value);
  // Adds the value of every line of that name to target, in list order.
  void Extract(const std::string& name, std::vector<std::string>& target) const;
  // Adds every name=value line of list with its first "=" replaced by the separator.
  void AddStdValues(const std::vector<std::string>& list);

 private:
  std::vector<std::string> lines_;
};

// Wraps "name" + separator + value into pieces of at most foldLength bytes (see SetValue).
std::vector<std::string> FoldLine(const std::string& line, int foldLength);

}  // namespace vm
