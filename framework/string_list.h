// CStringList: the framework's ordered list of strings.
#ifndef BRINDLEX_FRAMEWORK_STRING_LIST_H_
#define BRINDLEX_FRAMEWORK_STRING_LIST_H_

#include <list>

#include "framework/cstring.h"

class CStringList {
 public:
  using const_iterator = std::list<CString>::const_iterator;

  void AddHead(const CString& text) { items_.push_front(text); }
  void AddTail(const CString& text) { items_.push_back(text); }
  // Precondition for both: the list is not empty.
  const CString& GetHead() const { return items_.front(); }
  CString RemoveHead() {
    CString head = items_.front();
    items_.pop_front();
    return head;
  }
  int GetCount() const { return static_cast<int>(items_.size()); }

  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }

 private:
  std::list<CString> items_;
};

#endif  // BRINDLEX_FRAMEWORK_STRING_LIST_H_
