#pragma once
#include <string>
#include <vector>

#include "fits/fits_reader.h"

// Collects the header errors that the window would show in its message box.
class RecordingSink : public HeaderErrorSink {
 public:
  void ShowHeaderError(const std::string& message) override { messages.push_back(message); }
  std::vector<std::string> messages;
};
