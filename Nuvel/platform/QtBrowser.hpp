#pragma once

#include "Nuvel/model/SystemServices.hpp"

namespace nuvel {

// The user's default web browser, through the desktop's URL handler (xdg-open and friends).
// Needs a QGuiApplication.
class QtBrowser final : public Browser {
public:
    bool open(const std::string& url) override;
};

} // namespace nuvel
