#!/usr/bin/python3
# Checks the winget manifests of a release medium against the medium they describe:
#   check-winget.py MEDIUM README [--url URL] [--entry FILE] [--switches]
# MEDIUM holds the archive and winget/; README gives the documented exit codes. --url: the
# InstallerUrl the release was given. --entry: the uninstall entry a real install wrote, as
# "name<TAB>value" lines, the key's own name under "(key)". --switches prints, one a line, the
# install command lines winget would form from the manifest (for the caller to run) and nothing
# else. Prints one line per problem and exits 1 after any. Debian's python3, for its python3-yaml.
import hashlib
import io
import re
import sys
import zipfile

import yaml

args = sys.argv[1:]
medium, readme = args[0], args[1]
options = dict(zip(args[2::2], args[3::2])) if "--switches" not in args else {}
problems = []


def expect(condition, text):
    if not condition:
        problems.append(text)


def load(name):
    with open(f"{medium}/winget/{name}", encoding="utf-8") as f:
        return yaml.safe_load(f)


package = "TALVIQ.ProjectZorvane2PEDemo"
version_manifest = load(f"{package}.yaml")
installer = load(f"{package}.installer.yaml")
locale = load(f"{package}.locale.{version_manifest['DefaultLocale']}.yaml")
switches = installer["InstallerSwitches"]

if "--switches" in args:
    # As winget puts a silent install together: the mode's switches, the log, the location.
    log = switches["Log"].replace("<LOGPATH>", "C:\\Logs\\winget install.log")
    location = switches["InstallLocation"].replace("<INSTALLPATH>", "C:\\Apps\\Zorvane Winget")
    print(f"{switches['Silent']} {log} {location}")
    print(f"{switches['SilentWithProgress']} {log}")
    sys.exit(0)

version = version_manifest["PackageVersion"]
for name, manifest, kind in ((f"{package}.yaml", version_manifest, "version"),
                             (f"{package}.installer.yaml", installer, "installer"),
                             (f"{package}.locale.en-US.yaml", locale, "defaultLocale")):
    expect(manifest.get("PackageIdentifier") == package, f"{name}: PackageIdentifier")
    expect(manifest.get("PackageVersion") == version, f"{name}: PackageVersion differs from the version manifest's")
    expect(manifest.get("ManifestType") == kind, f"{name}: ManifestType is not {kind}")
    expect(manifest.get("ManifestVersion") == "1.10.0", f"{name}: ManifestVersion")
expect(re.fullmatch(r"\d+\.\d+\.\d+", str(version)) is not None, f"PackageVersion {version!r}")
expect(locale.get("PackageLocale") == version_manifest["DefaultLocale"], "PackageLocale is not the DefaultLocale")

# The archive: named after the version, hashed right, holding the nested installer at its root.
archive_name = f"Zorvane-{version}.zip"
with open(f"{medium}/{archive_name}", "rb") as f:
    archive_bytes = f.read()
(entry,) = installer["Installers"]
expect(entry["InstallerSha256"].lower() == hashlib.sha256(archive_bytes).hexdigest(),
       "InstallerSha256 is not the archive's")
url = options.get("--url", f"https://www.talviq.example/downloads/{archive_name}")
expect(entry["InstallerUrl"] == url, f"InstallerUrl {entry['InstallerUrl']} is not {url}")
expect(installer["InstallerType"] == "zip" and installer["NestedInstallerType"] == "exe", "installer types")
nested = [f["RelativeFilePath"] for f in installer["NestedInstallerFiles"]]
names = zipfile.ZipFile(io.BytesIO(archive_bytes)).namelist()
expect(nested == ["Setup.exe"] and "Setup.exe" in names, f"NestedInstallerFiles {nested} in an archive of {names}")
setup = zipfile.ZipFile(io.BytesIO(archive_bytes)).read("Setup.exe")
pe = int.from_bytes(setup[0x3C:0x40], "little")
machine = int.from_bytes(setup[pe + 4:pe + 6], "little")
expect(entry["Architecture"] == {0x14C: "x86", 0x8664: "x64"}.get(machine), f"Architecture for PE machine {machine:#x}")
# A program whose manifest asks for administrator rights has Windows elevate it: it elevates itself.
asks_admin = b'level="requireAdministrator"' in setup
expect(installer.get("ElevationRequirement") == ("elevatesSelf" if asks_admin else None),
       f"ElevationRequirement {installer.get('ElevationRequirement')} for a program that "
       f"{'asks' if asks_admin else 'does not ask'} for administrator rights")
expect(installer.get("Scope") == "machine", "Scope")
expect(installer.get("InstallModes") == ["interactive", "silent", "silentWithProgress"], "InstallModes")
expect(installer.get("UpgradeBehavior") == "install", "UpgradeBehavior")
expect(switches.get("Silent") == "/quiet /norestart" and switches.get("SilentWithProgress") == "/passive /norestart",
       "Silent and SilentWithProgress")
expect(switches.get("InstallLocation") == '/dir="<INSTALLPATH>"' and switches.get("Log") == '/log="<LOGPATH>"',
       "InstallLocation and Log")

# Every exit code the README's table documents, with the response that fits it; none a success.
with open(readme, encoding="utf-8") as f:
    text = f.read()
table = text[text.index("Exit codes, the Windows Installer's own numbers"):]
documented = [int(c) for c in re.findall(r"^\| (\d+) \|", table.split("\n\n", 2)[1], re.M)]
expect(0 in documented and len(documented) >= 8, f"the README's exit-code table reads {documented}")
responses = {c["InstallerReturnCode"]: c["ReturnResponse"] for c in installer.get("ExpectedReturnCodes", [])}
expect(len(responses) == len(installer["ExpectedReturnCodes"]), "a return code listed twice")
for code in documented:
    if code != 0:
        expect(code in responses, f"documented exit code {code} has no ExpectedReturnCodes entry")
expect(set(responses) <= set(documented), f"codes the README does not document: {set(responses) - set(documented)}")
required = {1602: "cancelledByUser", 1618: "installInProgress", 3010: "rebootRequiredToFinish", 1639: "invalidParameter"}
for code, response in required.items():
    expect(responses.get(code) == response, f"{code} answers {responses.get(code)}, not {response}")
schema_responses = {"packageInUse", "packageInUseByApplication", "installInProgress", "fileInUse", "missingDependency",
                    "diskFull", "insufficientMemory", "invalidParameter", "noNetwork", "contactSupport",
                    "rebootRequiredToFinish", "rebootRequiredForInstall", "rebootInitiated", "cancelledByUser",
                    "alreadyInstalled", "downgrade", "blockedByPolicy", "systemNotSupported", "custom"}
expect(set(responses.values()) <= schema_responses, f"responses outside the schema: {set(responses.values()) - schema_responses}")
success = set(installer.get("InstallerSuccessCodes") or []) | set(entry.get("InstallerSuccessCodes") or [])
expect(not success & set(responses), f"codes both expected and successful: {success & set(responses)}")

for field in ("Publisher", "PackageName", "License", "ShortDescription", "PublisherUrl", "PublisherSupportUrl"):
    expect(bool(locale.get(field)), f"default locale lacks {field}")

# What a real install wrote into its uninstall entry.
if "--entry" in options:
    written = {}
    with open(options["--entry"], encoding="utf-8") as f:
        for line in f:
            name, _, value = line.rstrip("\r\n").partition("\t")
            written[name] = value
    (apps,) = installer["AppsAndFeaturesEntries"]
    expect(apps.get("ProductCode") == written.get("(key)"), f"ProductCode {apps.get('ProductCode')} is not the key {written.get('(key)')}")
    for field in ("DisplayName", "Publisher", "DisplayVersion"):
        expect(apps.get(field) == written.get(field), f"{field} {apps.get(field)!r}, the install wrote {written.get(field)!r}")
    expect(locale["Publisher"] == written.get("Publisher"), "the default locale's Publisher is not the entry's")
    expect(locale["PackageName"] == written.get("DisplayName"), "PackageName is not the entry's DisplayName")

for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
