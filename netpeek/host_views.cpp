#include "netpeek/host_views.h"

#include <vector>

#include "netpeek/enum_texts.h"
#include "netpeek/snmp_text.h"
#include "netpeek/view_formats.h"

namespace torvane::netpeek {

namespace {

constexpr ViewColumn kDeviceColumns[] = {{"Device", 50}, {"Type", 15}, {"Status", 35}};
constexpr ViewColumn kStorageColumns[] = {{"Storage", 50},
                                          {"Type", 20},
                                          {"Unit", 10, ColumnAlign::kRight},
                                          {"Size", 10, ColumnAlign::kRight},
                                          {"Used", 10, ColumnAlign::kRight}};
constexpr ViewColumn kProcessColumns[] = {{"Process", 20},
                                          {"PID", 10, ColumnAlign::kRight},
                                          {"WorkingSet", 10, ColumnAlign::kRight},
                                          {"Path", 40},
                                          {"Options", 20}};
constexpr ViewColumn kSoftwareColumns[] = {{"Software", 75}, {"Install Date", 25}};
constexpr ViewColumn kNameColumns[] = {{"", 90}, {"", 10}};

constexpr uint32_t kNetworkDevice = 4;

}  // namespace

uint32_t type_code(const VarBind* value, const Oid& types) {
  if (!value || value->type != asn::kObjectId || value->oid.count() <= types.count() ||
      !oid_starts_with(value->oid, types))
    return 0;
  return value->oid.subids.back();
}

int devices_view(ViewContext& context) {
  if (!start_view(context, "Devices", kDeviceColumns, 64)) return 0;
  static const std::vector<Oid> kColumns = oids({"1.3.6.1.2.1.25.3.2.1.1", "1.3.6.1.2.1.25.3.2.1.2",
                                                 "1.3.6.1.2.1.25.3.2.1.3", "1.3.6.1.2.1.25.3.2.1.5"});
  static const Oid kTypes = oid_from_text("1.3.6.1.2.1.25.3.1");
  ReportModel& m = context.model;
  view_table(context, kColumns, 256, [&](const TableRow& row) {
    const uint32_t type = type_code(row.cell(1), kTypes);
    // Network devices are the Interfaces view's.
    if (type == kNetworkDevice) return false;
    size_t r = m.add_row(text_of(row.cell(2), 255));
    m.set_cell(r, 1, std::string(enum_text(EnumTable::kDeviceType, type)));
    m.set_cell(r, 2, std::string(enum_text(EnumTable::kDeviceStatus, number_of(row.cell(3)))));
    return true;
  });
  m.set_counted_title("Devices", m.row_count());
  return 3;
}

int storage_view(ViewContext& context) {
  if (!start_view(context, "Storage", kStorageColumns, 64)) return 0;
  static const std::vector<Oid> kColumns =
      oids({"1.3.6.1.2.1.25.2.3.1.1", "1.3.6.1.2.1.25.2.3.1.2", "1.3.6.1.2.1.25.2.3.1.3", "1.3.6.1.2.1.25.2.3.1.4",
            "1.3.6.1.2.1.25.2.3.1.5", "1.3.6.1.2.1.25.2.3.1.6"});
  static const Oid kTypes = oid_from_text("1.3.6.1.2.1.25.2.1");
  ReportModel& m = context.model;
  view_table(context, kColumns, 128, [&](const TableRow& row) {
    const uint32_t unit = number_of(row.cell(3));
    size_t r = m.add_row(text_of(row.cell(2), 255));
    m.set_cell(r, 1, std::string(enum_text(EnumTable::kStorageType, type_code(row.cell(1), kTypes))));
    m.set_cell(r, 2, storage_unit_text(unit));
    m.set_cell(r, 3, storage_amount_text(uint64_t{number_of(row.cell(4))} * unit, 4096));
    m.set_cell(r, 4, storage_amount_text(uint64_t{number_of(row.cell(5))} * unit, 1024));
    return true;
  });
  m.set_counted_title("Storage", m.row_count());
  return 5;
}

int processes_view(ViewContext& context) {
  if (!start_view(context, "Active Processes", kProcessColumns, 64)) return 0;
  // hrSWRunPerfCPU is asked with the rest and not shown.
  static const std::vector<Oid> kColumns =
      oids({"1.3.6.1.2.1.25.4.2.1.1", "1.3.6.1.2.1.25.4.2.1.2", "1.3.6.1.2.1.25.4.2.1.4", "1.3.6.1.2.1.25.4.2.1.5",
            "1.3.6.1.2.1.25.5.1.1.1", "1.3.6.1.2.1.25.5.1.1.2"});
  ReportModel& m = context.model;
  view_table(context, kColumns, 2048, [&](const TableRow& row) {
    size_t r = m.add_row(text_of(row.cell(1), 63));
    m.set_cell(r, 1, std::to_string(number_of(row.cell(0))));
    m.set_cell(r, 2, std::to_string(number_of(row.cell(5))) + " K");
    m.set_cell(r, 3, text_of(row.cell(2), 129));
    m.set_cell(r, 4, text_of(row.cell(3), 129));
    return true;
  });
  m.set_counted_title("Active Processes", m.row_count());
  return 5;
}

int installed_view(ViewContext& context) {
  if (!start_view(context, "Installed Software", kSoftwareColumns, 1024)) return 0;
  static const std::vector<Oid> kColumns =
      oids({"1.3.6.1.2.1.25.6.3.1.1", "1.3.6.1.2.1.25.6.3.1.2", "1.3.6.1.2.1.25.6.3.1.5"});
  ReportModel& m = context.model;
  view_table(context, kColumns, 2048, [&](const TableRow& row) {
    size_t r = m.insert_row_sorted(text_of(row.cell(1), 127));
    const VarBind* date = row.cell(2);
    m.set_cell(r, 1, date_and_time_text(date && date->type == asn::kOctetString ? std::span<const uint8_t>(date->octets)
                                                                                 : std::span<const uint8_t>()));
    return true;
  });
  m.set_counted_title("Installed Software", m.row_count());
  return 2;
}

int services_view(ViewContext& context) {
  if (!start_view(context, "Active Services", kNameColumns, 1024)) return 0;
  // Name, installed state, operating state, can be uninstalled, can be paused.
  static const std::vector<Oid> kColumns =
      oids({"1.3.6.1.4.1.77.1.2.3.1.1", "1.3.6.1.4.1.77.1.2.3.1.2", "1.3.6.1.4.1.77.1.2.3.1.3",
            "1.3.6.1.4.1.77.1.2.3.1.4", "1.3.6.1.4.1.77.1.2.3.1.5"});
  ReportModel& m = context.model;
  view_table(context, kColumns, 1024, [&](const TableRow& row) {
    m.insert_row_sorted(text_of(row.cell(0), 127));
    return true;
  });
  m.set_counted_title("Active Services", m.row_count());
  return 2;
}

int accounts_view(ViewContext& context) {
  if (!start_view(context, "Accounts", kNameColumns, 1024)) return 0;
  static const std::vector<Oid> kColumns = oids({"1.3.6.1.4.1.77.1.2.25.1.1"});
  ReportModel& m = context.model;
  view_table(context, kColumns, 256, [&](const TableRow& row) {
    m.insert_row_sorted(text_of(row.cell(0), 31));
    return true;
  });
  m.set_counted_title("Accounts", m.row_count());
  return 2;
}

}  // namespace torvane::netpeek
