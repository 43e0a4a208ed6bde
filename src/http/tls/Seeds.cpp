// The seeds of the keys the program builds at run time. They are written one character at a time so
// that neither appears as a string in the binary; changing one makes every certificate file written
// before unreadable (the file IV) or needs a rebuild of the embedded material (the built-in key).

#include "http/tls/TlsCrypto.h"

namespace talvern::tls {

std::array<unsigned char, 16> builtinCertificateKey() {
    std::array<char, 16> seed{};
    seed[0] = 't';
    seed[1] = 'L';
    seed[2] = 's';
    seed[3] = '@';
    seed[4] = 'O';
    seed[5] = 'k';
    seed[6] = '4';
    seed[7] = 'v';
    seed[8] = 'e';
    seed[9] = 'l';
    seed[10] = '-';
    seed[11] = 'M';
    seed[12] = '3';
    seed[13] = 'm';
    seed[14] = '!';
    seed[15] = '\0';
    return complementOfSeed(seed);
}

std::array<unsigned char, 16> certificateFileIv() {
    std::array<char, 16> seed{};
    seed[0] = 'O';
    seed[1] = 'k';
    seed[2] = '4';
    seed[3] = 'v';
    seed[4] = '3';
    seed[5] = 'l';
    seed[6] = ':';
    seed[7] = 'D';
    seed[8] = '1';
    seed[9] = 's';
    seed[10] = 'k';
    seed[11] = '/';
    seed[12] = 'I';
    seed[13] = 'V';
    seed[14] = '#';
    seed[15] = '\0';
    return complementOfSeed(seed);
}

}  // namespace talvern::tls
