// Texts for scripted wire records: each kept, with its terminator, for as
// long as the store lives, so that a record can point into it.
#pragma once

#include <deque>
#include <string>
#include <string_view>

#include "quarvane.h"

namespace qvtest {

class WireTexts {
  public:
    RpcWString Str(std::u16string_view text) {
        std::u16string& s = texts_.emplace_back(text);
        s.push_back(u'\0');
        return RpcWString{static_cast<u_int>(s.size()), reinterpret_cast<u_short*>(s.data())};
    }

  private:
    std::deque<std::u16string> texts_;
};

}  // namespace qvtest
