# The front door. `make` builds autodeploy.exe, its disk 0 guard, its watch and the capture program, `make test`
# runs every test, `make demo` runs a simulated deployment under Wine, `make release` builds the deployable programs
# and wimboot.
# Each target installs the Debian packages it needs first when any is missing (as root).

SHELL := /bin/bash
.SHELLFLAGS := -eu -o pipefail -c
.DEFAULT_GOAL := all

# The Debian packages, stated once in packages.txt: every group for building and testing.
PACKAGES := $(shell sed -n 's/^[a-z]*: *//p' packages.txt)

WINDOWS_BUILD := build/windows
WINE_PREFIX := $(CURDIR)/$(WINDOWS_BUILD)/wineprefix
EXE := $(WINDOWS_BUILD)/src/autodeploy.exe
GUARD := $(WINDOWS_BUILD)/src/autodeploy-guard.exe
WATCH := $(WINDOWS_BUILD)/src/autodeploy-watch.exe
CAPTURE := $(WINDOWS_BUILD)/src/autodeploy-capture.exe

RELEASE_BUILD ?= build/release

# Where the receiver comes from, given on the command line or in the environment:
#   UDPCAST_SOURCE=FILE          udpcast's release tarball on this machine (else it is downloaded)
#   RECEIVER=FILE                a prebuilt x64 udp-receiver.exe instead of building one
#   ALLOW_32BIT_RECEIVER=1       accept a 32-bit RECEIVER, for this one build
#   WIMBOOT_SOURCE=FILE          wimboot's release tarball, for serve-pxe (else it is downloaded)
# Every configure run states all three, so nothing of an earlier run sticks (the cached source
# path aside, which only spares a second download).
RECEIVER ?= $(AUTODEPLOY_RECEIVER)
RECEIVER_SETTINGS = -DAUTODEPLOY_RECEIVER=$(if $(RECEIVER),$(abspath $(RECEIVER))) \
                    $(if $(ALLOW_32BIT_RECEIVER),-DAUTODEPLOY_ALLOW_32BIT_RECEIVER=ON) \
                    $(if $(UDPCAST_SOURCE),-DUDPCAST_SOURCE=$(abspath $(UDPCAST_SOURCE))) \
                    $(if $(WIMBOOT_SOURCE),-DWIMBOOT_SOURCE=$(abspath $(WIMBOOT_SOURCE)))
FIRMWARE ?= uefi
MACHINES ?= 1
INDEX ?= 1
BENCH_RUNS ?= 15

.PHONY: all deps ensure-deps test test-native test-windows lint demo release install uninstall deb bench mutants clean

all: ensure-deps
	cmake --preset windows $(RECEIVER_SETTINGS) >/dev/null
	cmake --build --preset windows --target autodeploy autodeploy-guard autodeploy-watch autodeploy-capture
	@echo "Built $(EXE), $(GUARD), $(WATCH) and $(CAPTURE)"

# Installs what is missing: non-interactive, safe to run again.
deps:
	@missing="$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done)"; \
	if [ -z "$$missing" ]; then echo "All packages present."; exit 0; fi; \
	if [ "$$(id -u)" != 0 ]; then echo "Missing packages: $$missing. Run 'sudo make deps'." >&2; exit 1; fi; \
	echo "Installing: $$missing"; \
	export DEBIAN_FRONTEND=noninteractive; \
	apt-get update -qq; \
	apt-get install -y -qq --no-install-recommends $$missing </dev/null

ensure-deps:
	@$(MAKE) --no-print-directory deps

test: ensure-deps
	$(MAKE) --no-print-directory test-native
	$(MAKE) --no-print-directory test-windows
	$(MAKE) --no-print-directory lint

test-native:
	cmake --preset native $(if $(WIMBOOT_SOURCE),-DWIMBOOT_SOURCE=$(abspath $(WIMBOOT_SOURCE))) >/dev/null
	cmake --build --preset native
	ctest --preset native

# Wine runs the Windows tests in a prefix of their own under the build tree; its server is
# stopped at the end whatever the outcome, so nothing of the run stays behind.
test-windows:
	cmake --preset windows $(RECEIVER_SETTINGS) >/dev/null
	cmake --build --preset windows
	status=0; ctest --preset windows || status=$$?; \
	AUTODEPLOY_WINEPREFIX=$(WINE_PREFIX) cmake/wine-run --stop; exit $$status

# clang-format (check only), clang-tidy, cppcheck, shellcheck, flake8 and the width of the lines of scripts/ and lab/
# over the tree: any finding fails.
lint: ensure-deps
	lab/lint

# The main job on a simulated network: MACHINES=N PCs (1-16; one PC: FIRMWARE=uefi or bios),
# IMAGE=install.wim INDEX=N to send your own image; OFFLINE=1 without network (stand-in receiver);
# PXE=1: each PC (1-8) first boots from the network in QEMU, then gets the image; CAPTURE=1: a simulated reference
# PC captured with scripts/capture, then its image deployed to two PCs (docs/development.md).
demo: ensure-deps
	cmake --preset windows $(RECEIVER_SETTINGS) >/dev/null
	$(if $(PXE)$(CAPTURE),cmake --preset release $(RECEIVER_SETTINGS) >/dev/null)
	lab/demo --machines $(MACHINES) --firmware $(FIRMWARE) \
	    $(if $(IMAGE),--image $(abspath $(IMAGE)) --index $(INDEX)) $(if $(OFFLINE),--offline) $(if $(PXE),--pxe) \
	    $(if $(CAPTURE),--capture)

# The deployable programs (autodeploy.exe with udpcast's receiver built from source and embedded, see above; its disk 0
# guard, its watch and the capture program) and wimboot, built from its source for the network boot.
release: ensure-deps
	cmake --preset release $(RECEIVER_SETTINGS) >/dev/null
	cmake --build --preset release
	@cmake --build --preset release --target release_summary -- --quiet

# The operator's commands on the PATH (PREFIX/bin/autodeploy-*), with their parts under PREFIX/share/autodeploy
# and man pages; DESTDIR is honoured. Needs 'make release' first (RELEASE_BUILD=DIR: another build's programs).
# uninstall removes exactly what install made, by the list it left.
PREFIX ?= /usr/local
install:
	cmake/install-tree install "$(DESTDIR)" "$(PREFIX)" "$(abspath $(RELEASE_BUILD))"
	@missing="$$(for p in $$(sed -n 's/^run: *//p' packages.txt); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done)"; \
	[ -z "$$missing" ] || echo "The commands also need these Debian packages: apt-get install" $$missing

uninstall:
	cmake/install-tree uninstall "$(DESTDIR)" "$(PREFIX)"

# The Debian package autodeploy_VERSION_amd64.deb (debian/, dpkg-buildpackage in build/deb), its path printed last:
# UDPCAST_SOURCE and WIMBOOT_SOURCE name the release tarballs, as a package build never downloads.
deb: ensure-deps
	cmake/make-deb "$(abspath build/deb)" "$(if $(UDPCAST_SOURCE),$(abspath $(UDPCAST_SOURCE)))" \
	    "$(if $(WIMBOOT_SOURCE),$(abspath $(WIMBOOT_SOURCE)))"

# Figures, not pass/fail: see build/bench.txt and docs/benchmarks.md.
bench: ensure-deps
	lab/bench $(BENCH_RUNS)

# Plants each fault of tests/mutants/faults.tsv in a scratch copy and checks that the tests named
# for it catch it (FAULTS="name ..." for some; not part of make test: it takes a while).
mutants: ensure-deps
	UDPCAST_SOURCE=$(if $(UDPCAST_SOURCE),$(abspath $(UDPCAST_SOURCE))) \
	    WIMBOOT_SOURCE=$(if $(WIMBOOT_SOURCE),$(abspath $(WIMBOOT_SOURCE))) tests/mutants/run $(FAULTS)

clean:
	-AUTODEPLOY_WINEPREFIX=$(WINE_PREFIX) cmake/wine-run --stop
	rm -rf build
