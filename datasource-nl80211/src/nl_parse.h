/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * Decoding of nl80211 answers into nl_state.h values, and the small unit
 * conversions the records need. Each parser takes one netlink message as the
 * kernel sends it; tests feed them messages built with libnl's nla_put API.
 */
#ifndef QV_NL_PARSE_H
#define QV_NL_PARSE_H

#include <cstdint>
#include <string>

#include <netlink/msg.h>

#include "nl_state.h"

namespace qvnl {

/* false when the message carries no interface index (e.g. a P2P device). */
bool parse_interface(struct nlmsghdr *nlh, Iface &out);
/* false without interface index, MAC or station information. */
bool parse_station(struct nlmsghdr *nlh, Station &out);
/* false without survey information or frequency. */
bool parse_survey(struct nlmsghdr *nlh, Survey &out);

/* IEEE 802.11 channel number of a centre frequency; 0 when unknown. */
int32_t freq_to_channel(uint32_t freq_mhz);
/* Channel width in MHz of an enum nl80211_chan_width value; 0 when unknown. */
int32_t chan_width_mhz(uint32_t width);

/* dnsmasq leases file: "<expiry> <mac> <ip> <name> <client-id>" a line;
 * a name of "*" means none. Fills host names (and IPv4 addresses that the
 * neighbour table lacks) by MAC. */
void parse_leases(const std::string &text, RawState &state);

/* hostapd's answer to `STA <mac>` (one "key=value" a line after the MAC).
 * false when it is not an answer about that station (FAIL, empty, cut
 * before its first line). What a station sent itself (802.1X identity, WPS
 * and P2P device names) is printed raw and may hold line breaks, so each
 * field is read only where the station's text cannot reach: the security
 * suites before the first 802.1X, WPS or P2P line, the user name from the
 * 802.1X block's own line, the VLAN after hostapd's station statistics. */
bool parse_hostapd_sta(const std::string &reply, const Mac &mac, HostapdSta &out);
/* A suite selector as hostapd prints it ("00-0f-ac-4") as a column value;
 * pairwise ciphers of WPA (OUI 00-50-F2) share the IEEE numbers. */
uint32_t suite_value(const std::string &text, bool cipher);

} // namespace qvnl

#endif
