#pragma once

#include <QImage>
#include <ctime>
#include <functional>
#include <string>

#include "core/outcome.h"
#include "core/platform.h"

namespace archive {

inline constexpr int kNameCount = 1000;  // M000.Bmp ... M999.Bmp
inline constexpr const char* kSaveFaultText = ": Save ファイル異常 ";
inline constexpr const char* kLoadFaultText = ": Load ファイル異常 ";

// A named temporary is the picture's name plus this and six random
// characters: M003.Bmp.partial-a1B2c3.
inline constexpr const char* kPartialInfix = ".partial-";
// A named temporary untouched for this long belongs to a save that died.
inline constexpr int kStaleSeconds = 60;

// The numbered picture files of the picture folder.
struct PictureFiles {
    std::string PicName;  // full path of the file the last save chose
    QImage PicSaved;      // the restore picture: the file the last load read
};

// How a finished picture gets its name. Each later way is the fall-back for
// file systems that lack the one before it; a test may start at any of them.
enum class Placement {
    Anonymous,    // an unnamed file (O_TMPFILE) in the folder, linked in under the name
    NamedRename,  // a named temporary, renamed to the name without replacing
    NamedLink,    // a named temporary, hard-linked under the name, then removed
};

// Moments of a save, in order, at which a test may stop it. Linked happens
// only for Placement::NamedLink: the picture then has both names.
enum class SaveStep { Created, Written, Synced, Linked, Placed };

struct SaveOptions {
    Placement placement = Placement::Anonymous;
    std::function<void(SaveStep)> onStep;  // called at each step reached; may be empty
};

// folder + "/M" + index with "000" + ".Bmp".
std::string pictureName(const std::string& folder, int index);

// The lowest index whose name nothing on disk holds yet (no file, folder or
// link of that name, readable or not). When all 1000 names are taken, the
// path of M999.Bmp with error 58.
core::Outcome<std::string> findFreeName(const std::string& folder);

// Writes the image as a BMP and gives it the lowest free name in the
// folder. The file is complete and synced before it has any name, and a name
// is never taken from a file already there: when another program takes the
// chosen name first, the next free one is used. Returns the path, or the
// name it was meant for with an error number; a failed save leaves no file
// behind (a killed one may leave a named temporary, see below).
core::Outcome<std::string> writeToFreeName(const QImage& image, const std::string& folder,
                                           const SaveOptions& options = {});

// As writeToFreeName, but for exactly this path: 58 when it is taken.
int writeBmpFile(const QImage& image, const std::string& path, const SaveOptions& options = {});

// Reads a BMP file. Returns 0 or an error number.
int readBmpFile(const std::string& path, QImage& out);

// Makes the picture folder, and any of its parents that are missing, unless
// it exists. A folder that cannot be made is left to the first save to
// report. Returns true when the folder exists afterwards.
bool ensurePictureFolder(const std::string& folder);

// Removes the named temporaries (Mnnn.Bmp.partial-XXXXXX) that a save killed
// midway left in the picture folder, each only when its last change is at
// least kStaleSeconds before now and it did not change during the sweep.
// Nothing else is touched. Returns how many it removed.
int removeStaleTemporaries(const std::string& folder, std::time_t now = std::time(nullptr));

// Chooses PicName in the platform's picture folder and writes the surface
// to it; on failure shows the error number, ": Save ファイル異常 " and
// PicName, and ends the program.
void SaveBmp(core::Platform& platform, const QImage& surface, PictureFiles& files);

// Loads PicName into PicSaved; on failure shows the error number,
// ": Load ファイル異常 " and PicName, and ends the program.
void LoadBmp(core::Platform& platform, PictureFiles& files);

}  // namespace archive
