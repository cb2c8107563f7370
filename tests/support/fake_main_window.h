#pragma once

// The main window as the dialogs see it: what they put in its path box and list.

#include "available_files.h"

struct FakeMainWindow : AvailableFilesWindow {
    std::string path;
    std::vector<std::string> files;
    std::string pathDisplay() const override { return path; }
    void setPathDisplay(const std::string& folder) override { path = folder; }
    void setAvailableFiles(const std::string& folder,
                           const std::vector<std::string>& names) override {
        path = folder + (folder.back() == '/' ? "" : "/");
        files = names;
    }
    void EnableProcessButton() override {}
};
