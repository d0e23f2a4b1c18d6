#include "shop/ShopConnection.h"

#include <fstream>

#include "base/Sha256.h"
#include "shop/Odbc.h"
#include "shop/ShopPlatform.h"

namespace velmora::shop {

std::string ConnectionFromFile(const std::string& path, std::string& connection) {
    if (std::string problem = PrivateFileProblem(path); !problem.empty()) {
        return problem;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "The connection file " + path + " cannot be read.";
    }
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() &&
               (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.pop_back();
        }
        const auto first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line[first] != '#') {
            connection = line.substr(first);
            return {};
        }
    }
    return "The connection file " + path +
           " holds no connection string: write one on a line of its own, for example "
           "Driver=PostgreSQL Unicode;Server=db.shop.lan;Database=shop;UID=bench;PWD=...";
}

std::string CommandLineConnectionProblem(const std::string& connection) {
    if (MaskedConnection(connection) == connection) {
        return {};
    }
    return "--record: the connection string holds a password, which every user of this PC can "
           "read in the process list. Put it in a file that only you can read and give "
           "--record-file FILE instead, or name a DSN that keeps the password (DSN=shop).";
}

std::string TargetOf(const std::string& connection) {
    return Sha256Hex(MaskedConnection(connection));
}

}  // namespace velmora::shop
