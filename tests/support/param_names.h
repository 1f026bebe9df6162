// Names parameterised tests by their index: the default prints the parameter's
// bytes, padding included, which changes from build to build and would let a
// discovered test silently match nothing.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

struct TIndexName {
  template <class T>
  std::string operator()(const ::testing::TestParamInfo<T>& info) const {
    return std::to_string(info.index);
  }
};

// Names them by the parameter's `Name` field (letters and digits only).
struct TNameField {
  template <class T>
  std::string operator()(const ::testing::TestParamInfo<T>& info) const {
    return info.param.Name;
  }
};

}  // namespace testsupport
