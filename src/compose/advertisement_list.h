#pragma once
// The operator's advertisement list over plain data: the entries (GBK source paths, in the
// order of adding) and PictureFolder, which holds one copy per file name. The window owns the
// list box, the file-open dialog, the message box and the picture viewer; these operations
// decide what happens.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace aqled {

// Adding is refused once the list holds this many entries (a gg.txt may hold more).
inline constexpr std::size_t kAdvertisementLimit = 5;

// The message box text of a refused add, GBK.
const std::string& AdvertisementLimitMessage();

// The file-open dialog's filter, GBK, as one "description|patterns" pair:
// "(*.bmp,*.jpg,...,*.rmvb)|*.bmp;*.jpg;...;*.rmvb".
extern const char* const kAdvertisementFilter;

// kAdvertisementFilter in the form of a Qt name filter, "description (patterns)". Each
// pattern is offered in lower and upper case, so that PROMO.JPG is offered on a file system
// that compares names with case.
std::string AdvertisementDialogFilter();

enum class AddOutcome {
  kAdded,      // appended (whether the copy worked is not reported)
  kCancelled,  // the dialog was cancelled; nothing changed
  kRefused,    // the list is full: show AdvertisementLimitMessage(); the dialog was not opened
};

// Answers the file-open dialog: given the filter, the chosen path (GBK) or nothing.
using ChooseFile = std::function<std::optional<std::string>(const std::string& filter)>;

// Adds one advertisement: refuses when `entries` holds kAdvertisementLimit or more, else asks
// `choose` (with kAdvertisementFilter), appends the chosen path as it is (duplicates allowed)
// and copies the file into `pictureFolder` under its file name, replacing an earlier copy.
AddOutcome AddAdvertisement(std::vector<std::string>& entries, const std::string& pictureFolder,
                            const ChooseFile& choose);

// Copies `source` to `pictureFolder` + its file name, overwriting. Returns whether it worked;
// a failure changes nothing else (the entry stays listed and is simply never shown).
bool CopyAdvertisement(const std::string& source, const std::string& pictureFolder);

// Removes the entry at `index` (the selection, -1 for none). Returns false, changing nothing,
// for no selection or an index outside the list. The copy in PictureFolder stays.
bool DeleteAdvertisement(std::vector<std::string>& entries, int index);

// Whether an entry opens in the picture viewer: its source file exists and is .bmp, .jpg or
// .jpeg (any case).
bool AdvertisementOpens(const std::string& entry);

// The path the double-click opens: the selected entry's source path when it opens; nothing
// for no selection, an index outside the list or an entry that does not open.
std::optional<std::string> AdvertisementToOpen(const std::vector<std::string>& entries, int index);

}  // namespace aqled
