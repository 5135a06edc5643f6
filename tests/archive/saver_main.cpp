// Saves pictures into FOLDER/Bmp as the program does, for the tests that run
// two programs at once or kill one in the middle of a save.
//
//   archive_saver FOLDER COUNT PLACEMENT SEED [STOP]
//
// COUNT pictures, or until killed when it is 0; PLACEMENT is anonymous,
// rename or link; SEED picks the picture. With STOP (created, written,
// synced, linked or placed) the last save prints "stopped" when it reaches
// that step and waits there to be killed. Prints the path of each picture
// saved, one a line, as soon as it is saved.
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "archive/picture_files.h"
#include "test_picture.h"

namespace {

void say(const std::string& line) {
    const std::string text = line + "\n";
    // One write a line: the reading test never sees half a line.
    if (::write(STDOUT_FILENO, text.data(), text.size()) < 0) {
        std::_Exit(3);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::map<std::string, archive::Placement> placements = {
        {"anonymous", archive::Placement::Anonymous},
        {"rename", archive::Placement::NamedRename},
        {"link", archive::Placement::NamedLink}};
    const std::map<std::string, archive::SaveStep> steps = {{"created", archive::SaveStep::Created},
                                                            {"written", archive::SaveStep::Written},
                                                            {"synced", archive::SaveStep::Synced},
                                                            {"linked", archive::SaveStep::Linked},
                                                            {"placed", archive::SaveStep::Placed}};
    if ((argc != 5 && argc != 6) || !placements.count(argv[3]) ||
        (argc == 6 && !steps.count(argv[5]))) {
        say("usage: archive_saver FOLDER COUNT anonymous|rename|link SEED [STEP]");
        return 2;
    }
    const std::string folder = argv[1];
    const int count = std::atoi(argv[2]);
    const QImage picture = testsupport::seededPicture(std::atoi(argv[4]));

    for (int i = 0; count == 0 || i < count; ++i) {
        archive::SaveOptions options;
        options.placement = placements.at(argv[3]);
        if (argc == 6 && i == count - 1) {
            const archive::SaveStep stop = steps.at(argv[5]);
            options.onStep = [stop](archive::SaveStep step) {
                if (step == stop) {
                    say("stopped");
                    for (;;) {
                        ::pause();
                    }
                }
            };
        }
        const auto saved = archive::writeToFreeName(picture, folder + "/Bmp", options);
        if (!saved.ok()) {
            say("error " + std::to_string(saved.err) + " " + saved.value);
            return 1;
        }
        say(saved.value);
    }
    return 0;
}
