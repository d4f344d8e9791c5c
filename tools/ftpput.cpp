// Uploads one file the way the station does (connect, change directory, upload under a
// temporary name and rename), to check a server's settings by hand or from scripts. SERVER takes
// the station's schemes, sftp:// included (an empty password line then means the SSH keys). The password
// is read from standard input, so that it appears in no process list.
// usage: qor-ftpput SERVER ACCOUNT DIRECTORY FILE < password

#include <cstdio>
#include <iostream>
#include <string>

#include "publish/ftp_client.h"

int main(int argc, char** argv) {
  // The name it was run by: qor-ftpput once installed, ftpput in the build tree.
  const std::string path = argv[0] ? argv[0] : "ftpput";
  const std::string program = path.substr(path.find_last_of('/') + 1);
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::printf("usage: %s SERVER ACCOUNT DIRECTORY FILE < password\n", program.c_str());
    return 0;
  }
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s SERVER ACCOUNT DIRECTORY FILE < password\n", program.c_str());
    return 2;
  }
  std::string password;
  std::getline(std::cin, password);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  const std::string file = argv[4];
  const std::string name = file.substr(file.find_last_of('/') + 1);

  FtpClient ftp;
  const auto step = [&](const char* what, int16_t result) {
    for (const std::string& note : ftp.TakeNotes()) std::fprintf(stderr, "%s: %s\n", program.c_str(), note.c_str());
    if (result == -1) return true;
    std::fprintf(stderr, "%s: %s NG:%d\n", program.c_str(), what, ftp.FtpGetLastError());
    return false;
  };
  if (!step("FTP open", ftp.FtpConnect(argv[1], argv[2], password))) return 1;
  if (!step("Set CD", ftp.FtpSetCD(argv[3]))) return 1;
  if (!step("Put bin", ftp.FtpPutBin(file, name))) return 1;
  ftp.FtpDisconnect();
  std::printf("Put bin OK\n");
  return 0;
}
