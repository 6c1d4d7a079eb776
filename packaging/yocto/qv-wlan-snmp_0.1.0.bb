# The module, QV-WLAN-MIB and the example AgentX subagent configuration, for
# a layer of your own. Not built by the project's CI (no Yocto there); the
# CMake options are the ones its tests use: module only, prefix /usr, DESTDIR
# install, the SDK's toolchain with the recipe sysroot. Point SRC_URI at the
# project's tree or release archive.
SUMMARY = "Wireless tables (QV-WLAN-MIB) for Net-SNMP's snmpd"
LICENSE = "CLOSED"
SRC_URI = "file://qv-wlan-snmp/"
S = "${WORKDIR}/qv-wlan-snmp"

DEPENDS = "net-snmp"
RDEPENDS:${PN} = "net-snmp-server"
inherit cmake

EXTRA_OECMAKE = "-DQV_MODULE_ONLY=ON -DQV_DLMOD_DIR=${baselib}/snmp/dlmod"

# A dlmod module is an unversioned .so that belongs in the main package.
FILES_SOLIBSDEV = ""
FILES:${PN} += "${libdir}/snmp/dlmod/qv_if_iterate.so ${datadir}/snmp/mibs ${datadir}/qv-wlan-snmp"
