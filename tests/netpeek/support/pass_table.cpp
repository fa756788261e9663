// A fixed table of objects served to snmpd through its pass_persist protocol, so
// that tests can give a real snmpd the objects Linux agents lack (the LAN
// Manager services and accounts, an LLDP-MIB as our subagent serves it).
//
//   pass_persist .1.3.6.1.4.1.77.1.2 /path/netpeek_pass_table /path/table
//
// Each line of the table file is "OID TYPE VALUE" with the types of the pass
// protocol (integer, gauge, counter, timeticks, ipaddress, objectid, string,
// octet as space-separated hex). Lines starting with '#' are comments. The
// program ends when snmpd closes its standard input.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Oid = std::vector<unsigned long>;

Oid Parse(const std::string& text) {
  Oid oid;
  std::stringstream in(text);
  std::string piece;
  while (std::getline(in, piece, '.'))
    if (!piece.empty()) oid.push_back(std::stoul(piece));
  return oid;
}

std::string Text(const Oid& oid) {
  std::string out;
  for (unsigned long x : oid) out += "." + std::to_string(x);
  return out;
}

struct Value {
  std::string type, value;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s TABLE\n", argv[0]);
    return 2;
  }
  std::map<Oid, Value> table;
  std::ifstream file(argv[1]);
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream in(line);
    std::string oid, type, value;
    in >> oid >> type;
    std::getline(in >> std::ws, value);
    table[Parse(oid)] = {type, value};
  }
  auto answer = [](const Oid& oid, const Value& v) {
    std::cout << Text(oid) << "\n" << v.type << "\n" << v.value << "\n" << std::flush;
  };
  for (std::string command; std::getline(std::cin, command);) {
    if (command == "PING") {
      std::cout << "PONG\n" << std::flush;
    } else if (command == "get" || command == "getnext") {
      std::string oidText;
      if (!std::getline(std::cin, oidText)) break;
      const Oid oid = Parse(oidText);
      auto it = command == "get" ? table.find(oid) : table.upper_bound(oid);
      if (it == table.end())
        std::cout << "NONE\n" << std::flush;
      else
        answer(it->first, it->second);
    } else if (command == "set") {
      std::string oidText, value;
      std::getline(std::cin, oidText);
      std::getline(std::cin, value);
      std::cout << "not-writable\n" << std::flush;
    }
  }
  return 0;
}
