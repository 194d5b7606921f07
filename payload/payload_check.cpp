// payload_check <payload-folder>
// Validates the eight drive payload files before they are linked into the
// updater as resources. Prints one line per breach; exit code 1 on any breach.
#include <iostream>

#include "payload_rules.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: payload_check <payload-folder>\n";
        return 2;
    }
    const std::vector<std::string> breaches = payload::CheckPayloadFolder(argv[1]);
    for (const std::string& b : breaches) std::cout << b << '\n';
    if (!breaches.empty()) return 1;
    std::cout << "payload ok: " << payload::PayloadFiles().size() << " files\n";
    return 0;
}
