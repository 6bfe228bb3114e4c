#pragma once

#include <QIcon>
#include <QPixmap>
#include <string>
#include <string_view>
#include <vector>

#include "platform/api/Platform.h"

namespace cloakline {

// The country flags that ship beside the program, each named by its country code.
class TFlagPictureList {
  public:
    // Appends every "<code>.png" picture of folder (program form, trailing "\"
    // optional) in the file system's order. Only codes of letters and digits
    // count; the extension is matched in any letter case, as on Windows.
    void LoadFlagPNGList(const Platform& system, std::string_view folder);
    void Add(std::string name, QPixmap picture);

    // Position of the first picture named code, letter case aside; -1 when there is none.
    int GetImageIndex(std::string_view code) const;
    int Count() const { return static_cast<int>(FItems.size()); }
    const std::string& Name(int index) const { return FItems.at(static_cast<std::size_t>(index)).Name; }
    const QPixmap& Picture(int index) const { return FItems.at(static_cast<std::size_t>(index)).Picture; }

  private:
    struct Item {
        std::string Name;
        QPixmap Picture;
    };
    std::vector<Item> FItems;
};

}  // namespace cloakline
