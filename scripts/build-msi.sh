#!/usr/bin/env bash
# Builds the Windows installer (MSI) with msitools: wixl compiles packaging/windows/Tillvane_se.wxs,
# then msibuild adds by SQL what wixl 0.101 cannot write:
#   - the configuration kept on upgrade and removal (Component attributes Permanent and
#     NeverOverwrite) and the property components' conditions;
#   - the IniFile table, which writes TCPPORT, DRIVERMODEL, PORT and OUTPUTFOLDER into the new
#     configuration on a first install, with WriteIniValues in the sequence;
#   - automatic start delayed after boot and the failure actions (restart after 5, 10 and 30
#     seconds, count reset after a day, also on a non-zero exit: MsiServiceConfig,
#     MsiServiceConfigFailureActions, MsiConfigureServices);
#   - modify rights for NT AUTHORITY\LocalService on the program's folder (MsiLockPermissionsEx);
#   - the event source's EventMessageFile as an expandable string.
#
# Usage: build-msi.sh <Tillvane_se.exe> <texts folder> <version> <output.msi>
#   texts folder: Tillvane_se.ini.sample and README-Windows.txt with CR LF line ends (the
#   Windows build makes them in build/windows/windows-texts).
set -euo pipefail
[ $# -eq 4 ] || { sed -n '2,17p' "$0"; exit 2; }
root="$(cd "$(dirname "$0")/.." && pwd)"
program="$1"
texts="$2"
version="$3"
output="$4"
for tool in wixl msibuild; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/setup.sh --tests)"; exit 1; }
done

mkdir -p "$(dirname "$output")"
output="$(realpath "$output")"
rm -f "$output"
# wixl takes the files by names relative to the folder it runs in.
staging="$(mktemp -d)"
trap 'rm -rf "$staging"' EXIT
cp "$program" "$staging/Tillvane_se.exe"
cp "$texts/Tillvane_se.ini.sample" "$texts/README-Windows.txt" "$staging/"
(cd "$staging" && wixl --arch x64 -D Version="$version" -o "$output" \
    "$root/packaging/windows/Tillvane_se.wxs")

# Component attributes (msidbComponentAttributes*): 64-bit 256, Permanent 16, NeverOverwrite 128.
readonly component_64bit=256 permanent=16 never_overwrite=128
# Service configuration events (msidbServiceConfigEvent*): on install and on reinstall.
readonly on_install=5
# Configuration types: SERVICE_CONFIG_DELAYED_AUTO_START_INFO 3, ..._FAILURE_ACTIONS_FLAG 4.
readonly delayed_auto_start=3 failure_actions_flag=4
# Failure actions: SC_ACTION_RESTART each time; delays in milliseconds; reset after one day.
readonly restart_actions='1[~]1[~]1' restart_delays='5000[~]10000[~]30000' reset_seconds=86400
# SYSTEM and Administrators full control, LocalService modify, Users read and run; inherited by
# the folder's files and subfolders.
readonly folder_rights='D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;LS)(A;OICI;0x1200a9;;;BU)'
# The configuration's long name with the short one Windows Installer wants beside it.
readonly ini_name='TILLVA~1.INI|TILLVANE_SE.INI' ini_section='Tillvane_SE'

queries=(
    "UPDATE \`Component\` SET \`Attributes\` = $((component_64bit | permanent | never_overwrite)) WHERE \`Component\` = 'Configuration'"
    "UPDATE \`Registry\` SET \`Value\` = '#%[#Program]' WHERE \`Name\` = 'EventMessageFile'"
    "UPDATE \`Property\` SET \`Value\` = 'TCPPORT;DRIVERMODEL;PORT;OUTPUTFOLDER;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE \`Property\` = 'SecureCustomProperties'"
    "CREATE TABLE \`IniFile\` (\`IniFile\` CHAR(72) NOT NULL, \`FileName\` CHAR(255) NOT NULL LOCALIZABLE, \`DirProperty\` CHAR(72), \`Section\` CHAR(96) NOT NULL LOCALIZABLE, \`Key\` CHAR(128) NOT NULL LOCALIZABLE, \`Value\` CHAR(255) NOT NULL LOCALIZABLE, \`Action\` SHORT NOT NULL, \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`IniFile\`)"
    "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveIniValues', 3100)"
    "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteIniValues', 5100)"
    "CREATE TABLE \`MsiServiceConfig\` (\`MsiServiceConfig\` CHAR(72) NOT NULL, \`Name\` CHAR(255) NOT NULL, \`Event\` SHORT NOT NULL, \`ConfigType\` LONG NOT NULL, \`Argument\` CHAR(0), \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`MsiServiceConfig\`)"
    "INSERT INTO \`MsiServiceConfig\` (\`MsiServiceConfig\`, \`Name\`, \`Event\`, \`ConfigType\`, \`Argument\`, \`Component_\`) VALUES ('DelayedStart', 'Tillvane_SE', $on_install, $delayed_auto_start, '1', 'Program')"
    "INSERT INTO \`MsiServiceConfig\` (\`MsiServiceConfig\`, \`Name\`, \`Event\`, \`ConfigType\`, \`Argument\`, \`Component_\`) VALUES ('FailureOnExitCode', 'Tillvane_SE', $on_install, $failure_actions_flag, '1', 'Program')"
    "CREATE TABLE \`MsiServiceConfigFailureActions\` (\`MsiServiceConfigFailureActions\` CHAR(72) NOT NULL, \`Name\` CHAR(255) NOT NULL, \`Event\` SHORT NOT NULL, \`ResetPeriod\` LONG, \`RebootMessage\` CHAR(0), \`Command\` CHAR(0), \`Actions\` CHAR(0), \`DelayActions\` CHAR(0), \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`MsiServiceConfigFailureActions\`)"
    "INSERT INTO \`MsiServiceConfigFailureActions\` (\`MsiServiceConfigFailureActions\`, \`Name\`, \`Event\`, \`ResetPeriod\`, \`Actions\`, \`DelayActions\`, \`Component_\`) VALUES ('Restart', 'Tillvane_SE', $on_install, $reset_seconds, '$restart_actions', '$restart_delays', 'Program')"
    "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('MsiConfigureServices', 'VersionNT >= 600', 5850)"
    "CREATE TABLE \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\` CHAR(72) NOT NULL, \`LockObject\` CHAR(72) NOT NULL, \`Table\` CHAR(32) NOT NULL, \`SDDLText\` CHAR(0) NOT NULL, \`Condition\` CHAR(255) PRIMARY KEY \`MsiLockPermissionsEx\`)"
    "INSERT INTO \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\`, \`LockObject\`, \`Table\`, \`SDDLText\`) VALUES ('ProgramFolder', 'INSTALLDIR', 'CreateFolder', '$folder_rights')"
)
# property component key: each given property on a first install, kept when the product goes.
while read -r property component key; do
    queries+=(
        "UPDATE \`Component\` SET \`Attributes\` = $((component_64bit | permanent)), \`Condition\` = '$property AND NOT WIX_UPGRADE_DETECTED' WHERE \`Component\` = '$component'"
        "INSERT INTO \`IniFile\` (\`IniFile\`, \`FileName\`, \`DirProperty\`, \`Section\`, \`Key\`, \`Value\`, \`Action\`, \`Component_\`) VALUES ('$component', '$ini_name', 'INSTALLDIR', '$ini_section', '$key', '[$property]', 0, '$component')"
    )
done <<'PROPERTIES'
TCPPORT SetTcpPort tcpPort
DRIVERMODEL SetDriverModel driverModel
PORT SetPort Port
OUTPUTFOLDER SetOutputFolder outputFolder
PROPERTIES

args=()
for query in "${queries[@]}"; do args+=(-q "$query"); done
msibuild "$output" "${args[@]}"
echo "built $output"
