################################################################################
#
# qv-wlan-snmp: the module, QV-WLAN-MIB and the example AgentX subagent
# configuration. Use it from a BR2_EXTERNAL tree; QV_WLAN_SNMP_SITE names the
# project's tree. Not built by the project's CI (no Buildroot there); the
# CMake options are the ones its tests use: module only, prefix /usr, DESTDIR
# install, Buildroot's toolchain file with $(STAGING_DIR) as sysroot.
#
################################################################################

QV_WLAN_SNMP_VERSION = 0.1.0
QV_WLAN_SNMP_SITE ?= $(QV_WLAN_SNMP_PKGDIR)/../../..
QV_WLAN_SNMP_SITE_METHOD = local
QV_WLAN_SNMP_DEPENDENCIES = netsnmp
QV_WLAN_SNMP_CONF_OPTS = -DQV_MODULE_ONLY=ON -DQV_DLMOD_DIR=lib/snmp/dlmod

$(eval $(cmake-package))
