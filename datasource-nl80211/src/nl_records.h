/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * Turning one snapshot of kernel state into the records of each kind, with
 * the cursor each row gets. docs/nl80211-mapping.md documents every field.
 */
#ifndef QV_NL_RECORDS_H
#define QV_NL_RECORDS_H

#include <cstdint>
#include <vector>

#include "datasource/qv_wlan_datasource.h"
#include "nl_state.h"

namespace qvnl {

template <typename Rec>
struct Rows {
    std::vector<Rec> records;
    std::vector<uint32_t> cursors; /* parallel to records */
};

/* Interface types that serve clients: their stations are associations. */
bool serves_clients(uint32_t iftype);
/* By interface index, the interface that interface's stations are associated
 * through: itself when it serves clients; for an AP VLAN interface (where
 * hostapd moves a station it puts on a VLAN) the access point of the same
 * radio and address; else null. */
std::unordered_map<uint32_t, const Iface *> bss_by_ifindex(const RawState &s);

Rows<qv_wlan_if_entry> build_if_rows(const RawState &s);
Rows<qv_wlan_ass_entry> build_ass_rows(const RawState &s);
Rows<qv_wlan_radio_statis_entry> build_radio_stats_rows(const RawState &s);
Rows<qv_wlan_virtual_statis_entry> build_vif_stats_rows(const RawState &s);
Rows<qv_wlan_radio_attr_entry> build_radio_attr_rows(const RawState &s);

/* Values of qvClientMACProtocol. */
enum MacProtocol : int32_t {
    PROTO_UNKNOWN = 0,
    PROTO_A = 1,
    PROTO_B = 2,
    PROTO_G = 3,
    PROTO_N = 4,
    PROTO_AC = 5,
    PROTO_AX = 6,
    PROTO_BE = 7,
};
int32_t mac_protocol(const Rate &tx, uint32_t freq_mhz);
/* The same from what the station negotiated (hostapd's flags). */
int32_t mac_protocol(const HostapdSta &h, uint32_t freq_mhz);

} // namespace qvnl

#endif
