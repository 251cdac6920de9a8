# What `make install` (cmake --install) and `make package` (CPack) put where.
# Paths are relative to the prefix (default /usr/local; the Debian package
# uses /usr); DESTDIR is honoured by cmake --install.
include(GNUInstallDirs)

set(KORVANE_ARTEFACT_DIR "${CMAKE_BINARY_DIR}/Korvane_artefacts/$<CONFIG>")

# The standalone app, under the lower-case name a shell user types.
install(PROGRAMS "$<TARGET_FILE:Korvane_Standalone>" DESTINATION "${CMAKE_INSTALL_BINDIR}" RENAME korvane)
install(TARGETS korvane-render RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

# The plug-in bundles where LV2 and VST3 hosts look for them. (Not
# CMAKE_INSTALL_LIBDIR: hosts search lib/lv2 and lib/vst3, not the multiarch folder.)
install(DIRECTORY "${KORVANE_ARTEFACT_DIR}/LV2/Korvane.lv2" DESTINATION lib/lv2 USE_SOURCE_PERMISSIONS)
install(DIRECTORY "${KORVANE_ARTEFACT_DIR}/VST3/Korvane.vst3" DESTINATION lib/vst3 USE_SOURCE_PERMISSIONS)

# Desktop menu entry and its icon.
install(FILES resources/desktop/korvane.desktop DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES resources/desktop/korvane.svg DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
install(FILES resources/desktop/korvane.png DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps")
install(FILES README.md LICENSE DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/korvane")

# The factory sounds as files, for korvane-render --patch and for copying by
# hand (the app and the plug-ins carry them inside and copy them themselves).
install(DIRECTORY resources/factory/ DESTINATION "${CMAKE_INSTALL_DATADIR}/korvane/factory" FILES_MATCHING PATTERN "*.kvn")

# Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvane)
set(CPACK_PACKAGE_VENDOR OrbelAudio)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Polyphonic software synthesizer (standalone app, LV2 and VST3 plug-ins)")
set(CPACK_PACKAGE_DESCRIPTION "Korvane is a polyphonic synthesizer: two oscillator sections of up to 16 unison layers of up to 16 voices playing 28 waveforms, two modulation envelopes, two tempo-synced LFOs, overdrive, a resonant low-pass filter and a limiter. The package holds the standalone app, the LV2 and VST3 plug-ins and the offline renderer korvane-render.")
set(CPACK_PACKAGE_CONTACT "Korvane developers <korvane@orbelaudio.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_LICENSE "GPL-3")
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
# dpkg-shlibdeps finds the libraries the programs link; the framework opens the
# X11 libraries, GL and JACK at run time, so those are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libx11-6, libxext6, libxinerama1, libxrandr2, libxcursor1, libgl1, libfontconfig1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libjack-jackd2-0 | libjack0, jackd2")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "jalv")
include(CPack)
