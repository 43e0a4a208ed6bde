// Prints the service unit the package ships: the agent's own template, with message 37 in English.
//   okavel-unit-text EXECUTABLE WORKING_DIRECTORY
#include <iostream>

#include "app/service/ServiceUnit.h"
#include "catalogue/MessageCatalogue.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: okavel-unit-text EXECUTABLE WORKING_DIRECTORY\n";
        return 2;
    }
    talvern::utilities::LanguageSources english;
    english.readKey = [](const std::string&, std::string& value) {
        value = "en-US";
        return true;
    };
    std::cout << talvern::serviceUnitText(talvern::utilities::getMessage(37, english), argv[1], argv[2]);
    return std::cout ? 0 : 1;
}
