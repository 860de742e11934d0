// Naming of outputs: the output folder, name and format of a source from the output page, the
// numbered names that follow a taken one, and the marker file of output folders.
#pragma once

#include <set>
#include <string>

class COutputPage;

// Where and as what a source's output is written.
struct OutputTarget {
  std::string sourceFolder;  // the source's folder, absolute
  std::string folder;        // the output folder, without a trailing "/" (except the root)
  std::string base;          // the source's file name without its extension
  std::string extension;     // the output's extension, with its "."
  int fileType = 0;          // 1 JPEG, 2 PNG, 3 BMP; 0 the source's own format through the picture object
  int keepCode = 0;          // that format's code for file type 0 (IFF_UNKNOWN when it cannot be told)
};
// The output of the source at `path` under the output page's choices.
OutputTarget OutputTargetFor(const std::string& path, const COutputPage& out);

// True when the file system reports a status for the path.
bool FileExists(const std::string& path);
// Appends `marks` '*' to "qrvoutput.dir" in the folder (created when missing; 0 marks only makes
// sure it is there), only when that is a regular file with no other hard link; says why when it
// could not, empty when it did.
std::string WriteOutputMarker(const std::string& folder, int marks = 1);
// base + number + "_QRV" + extension; number 0 gives base + "_QRV" + extension.
std::string NumberedOutputName(const std::string& base, long long number, const std::string& extension);
// The names without extension, in lower case, of the picture files of a folder (the extensions
// a folder's queue takes, and camera-RAW files), listed once; none when it cannot be read.
std::set<std::string> PictureBaseNames(const std::string& folder);
// True when base + number (from 1 on) is one of `bases` (lower case), case ignored: that numbered
// output would bear the name of another picture's output.
bool NumberTakesPictureName(const std::string& base, long long number, const std::set<std::string>& bases);
// The name in lower case, as the sets above hold it.
std::string LowerName(std::string name);
// The name an entry is shown by: the file's name, or for a path that ends in "/" (a folder that
// is not there) its last part with the slash, as it was given.
std::string EntryName(const std::string& path);
// The folder with one "/" at its end (an empty folder stays empty).
std::string WithSlash(const std::string& folder);
