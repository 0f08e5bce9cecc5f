# What the install lays out besides the programs and libraries (their rules sit beside their
# targets): the role set-up scripts, the install layout test and the Debian package.

# The role set-up script (scripts/install) as <prefix>/share/zelvora/install, with the
# printer set-up it runs; each only when the source tree has it at configure time.
if(EXISTS ${PROJECT_SOURCE_DIR}/scripts/install)
  install(PROGRAMS scripts/install DESTINATION ${ZELVORA_INSTALL_DATADIR})
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/scripts/install-printer)
  install(PROGRAMS scripts/install-printer DESTINATION ${ZELVORA_INSTALL_DATADIR})
endif()
# The removal steps the set-up script sources (and the package's postrm carries a copy of).
install(FILES scripts/removal.sh DESTINATION ${ZELVORA_INSTALL_DATADIR})
# Where the share lies and what bounds it, which the set-up script sources too.
install(FILES scripts/share_place.sh DESTINATION ${ZELVORA_INSTALL_DATADIR})

# The layout test installs this build into a temporary prefix and checks it (programs there,
# relative run paths, libraries resolved inside the prefix).
add_test(NAME install_layout_test
  COMMAND ${PROJECT_SOURCE_DIR}/cmake/tests/install_layout_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(install_layout_test PROPERTIES LABELS deploy TIMEOUT 300)

# The Debian package (scripts/package): the same install rules below /opt/zelvora; its
# maintainer scripts set the machine up as a client through the role script and undo it on
# removal. Runtime packages the programs start or load by name (not by linking) are named
# here; dpkg-shlibdeps adds the linked ones.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelvora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Zelvora")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "office print control with page quotas, preview and layout")
set(CPACK_PACKAGE_DESCRIPTION "Users print to a virtual printer; each job is captured, previewed
and laid out in a client (pages per sheet, headers and footers,
copies, ranges, saving as images or PDF) and handed through a shared
folder to a print server, which checks it against page quotas per
user and group, prints it on the office's printers, logs it in a
database, answers the client and mails quota notices.
.
This package holds the print engine and its service host, the
administration console, the client, the resident program and the
virtual printer queues, the job monitor and the job-result reader.
Installing it sets the machine up as a client; the installed role
script sets up a server.")
# DESTDIR staging below /opt/zelvora whatever the build's own prefix, so that what the install
# writes (the filter script) names /opt/zelvora.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /opt/zelvora)
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/zelvora)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
# Stripping, with the debug parts kept apart for the debug-symbols package, the copyright and
# changelog files and the lintian override are added by the step below, after the install
# rules have filled the staging folder.
set(CPACK_STRIP_FILES OFF)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package/prebuild.cmake)
set(CPACK_ZELVORA_DOC_SOURCE ${CMAKE_BINARY_DIR}/package)
set(CPACK_ZELVORA_DEBUG_DIR ${CMAKE_BINARY_DIR}/package/debug)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(ZELVORA_PACKAGE_MAINTAINER "Zelvora developers <developers@zelvora.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZELVORA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# cups-*: the queues, backends and filter; cups-filters turns office files and pictures into
# the PDF the queue takes (plain text goes through the queues' own text filter, whose Pango and
# cairo libraries dpkg-shlibdeps adds). The SQLite ODBC driver and unixODBC's odbcinst: the embedded database.
# The IPA faces draw every Japanese text, DejaVu the characters they lack (the text filter
# falls back to it, U+FFFD included); qt6-qpa-plugins lets the windows open on a desktop;
# xdg-utils opens the help pages. Latin Modern draws the text of TeX documents whose
# Computer Modern or Latin Modern fonts are not embedded whole.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "cups-daemon, cups-client, cups-filters, unixodbc, odbcinst, libsqliteodbc, fonts-ipafont-gothic, fonts-ipafont-mincho, fonts-dejavu-core, fonts-lmodern, qt6-qpa-plugins, xdg-utils")
set(ZELVORA_PACKAGE_PREFIX ${CPACK_PACKAGING_INSTALL_PREFIX})
# The postrm runs after the package's files are gone: it carries the removal steps itself.
file(READ ${PROJECT_SOURCE_DIR}/scripts/removal.sh ZELVORA_REMOVAL_FUNCTIONS)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/scripts/removal.sh)
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/postinst.in ${CMAKE_BINARY_DIR}/package/postinst @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/prerm.in ${CMAKE_BINARY_DIR}/package/prerm @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/postrm.in ${CMAKE_BINARY_DIR}/package/postrm @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/changelog.in ${CMAKE_BINARY_DIR}/package/changelog @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/copyright ${CMAKE_BINARY_DIR}/package/copyright COPYONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/lintian-overrides ${CMAKE_BINARY_DIR}/package/lintian-overrides
  COPYONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_BINARY_DIR}/package/postinst ${CMAKE_BINARY_DIR}/package/prerm ${CMAKE_BINARY_DIR}/package/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
