#pragma once

#include <QImage>
#include <string>

#include "core/outcome.h"
#include "core/platform.h"

namespace archive {

inline constexpr int kNameCount = 1000;  // M000.Bmp ... M999.Bmp
inline constexpr const char* kSaveFaultText = ": Save ファイル異常 ";
inline constexpr const char* kLoadFaultText = ": Load ファイル異常 ";

// The numbered picture files of the Bmp folder beside the program.
struct PictureFiles {
    std::string PicName;  // full path of the file the last save chose
    QImage PicSaved;      // the restore picture: the file the last load read
};

// programFolder + "/Bmp/M" + index with "000" + ".Bmp".
std::string pictureName(const std::string& programFolder, int index);

// The lowest index whose name nothing on disk holds yet (no file, folder or
// link of that name, readable or not). When all 1000 names are taken, the
// path of M999.Bmp with error 58.
core::Outcome<std::string> findFreeName(const std::string& programFolder);

// Writes the image as a BMP under a temporary name in the target's folder
// and moves it into place only when complete, never replacing a file that
// appeared meanwhile. Returns 0 or an error number.
int writeBmpFile(const QImage& image, const std::string& path);

// Reads a BMP file. Returns 0 or an error number.
int readBmpFile(const std::string& path, QImage& out);

// Chooses PicName and writes the surface to it; on failure shows the error
// number, ": Save ファイル異常 " and PicName, and ends the program.
void SaveBmp(core::Platform& platform, const QImage& surface, PictureFiles& files);

// Loads PicName into PicSaved; on failure shows the error number,
// ": Load ファイル異常 " and PicName, and ends the program.
void LoadBmp(core::Platform& platform, PictureFiles& files);

}  // namespace archive
