#pragma once
// The picture viewer behind a seam, so that tests can see what would be opened without
// launching a program.

#include <string>

namespace aqled {

class PictureViewer {
 public:
  virtual ~PictureViewer() = default;
  // Asks the desktop to show the picture file at `gbkPath`; false when no viewer could be
  // started for it.
  virtual bool Open(const std::string& gbkPath) = 0;
};

// The desktop's default picture viewer with the path.
class DesktopViewer : public PictureViewer {
 public:
  bool Open(const std::string& gbkPath) override;
};

}  // namespace aqled
