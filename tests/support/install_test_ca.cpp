// Makes the tests' CA a trusted root of this Wine prefix, so that the HTTPS
// tests meet the platform's certificate checks unchanged.
// usage: install_test_ca CA.der
// Exit 0 when the certificate is in the ROOT store (also when it already
// was), 1 otherwise.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: install_test_ca CA.der\n");
        return 1;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::string der(std::istreambuf_iterator<char>(file), {});
    if (!file || der.empty()) {
        std::fprintf(stderr, "install_test_ca: cannot read %s\n", argv[1]);
        return 1;
    }
    if (!CertAddEncodedCertificateToSystemStoreA("ROOT", reinterpret_cast<const BYTE*>(der.data()),
                                                 static_cast<DWORD>(der.size()))) {
        std::fprintf(stderr, "install_test_ca: %s not added to ROOT, error 0x%08lx\n", argv[1],
                     GetLastError());
        return 1;
    }
    return 0;
}
