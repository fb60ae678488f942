# Makes the packages of one distribution folder:
#   cmake -DDIST=<folder> -DSOURCE=<tree> -DOUT=<folder> -DMAKENSIS=<makensis>
#         -DZIP=<zip> [-DOSSLSIGNCODE=<osslsigncode>] -P make_packages.cmake
# writes into OUT
#   QV70-DeviceManager-<version>-setup.exe     the setup program
#   QV70-DeviceManager-<version>-portable.zip  the folder, under one top folder
#   SHA256SUMS                                 both, as sha256sum -c reads them
# The version comes from res/version.h. Every file of the distribution folder
# goes into both packages; none is named here except the few that make up the
# simulated bench (an optional part of the setup) and setting.ini (kept on an
# upgrade).
#
# With the environment variables QV_SIGN_CERT and QV_SIGN_KEY (a certificate
# and its private key, PEM files), the programs and the setup program are
# signed with osslsigncode; QV_SIGN_PASS gives the key's password, if any.
cmake_minimum_required(VERSION 3.20)

foreach(var DIST SOURCE OUT MAKENSIS ZIP)
  if(NOT ${var})
    message(FATAL_ERROR "make_packages: ${var} is not set")
  endif()
endforeach()
if(NOT EXISTS "${DIST}/DeviceManager.exe")
  message(FATAL_ERROR "make_packages: no distribution folder at ${DIST}")
endif()

# The version and the names, from the files the program is built from.
file(READ "${SOURCE}/res/version.h" version_h)
foreach(part MAJOR MINOR PATCH BUILD)
  if(NOT version_h MATCHES "#define QV_VERSION_${part} ([0-9]+)")
    message(FATAL_ERROR "make_packages: no QV_VERSION_${part} in res/version.h")
  endif()
  set(${part} ${CMAKE_MATCH_1})
endforeach()
# -DVERSION=<a.b.c.d> packs the same folder under another version (the
# tests make an older setup program to upgrade from).
if(NOT VERSION)
  set(VERSION "${MAJOR}.${MINOR}.${PATCH}.${BUILD}")
endif()
string(REGEX MATCH "#define QV_PRODUCT_NAME \"([^\"]+)\"" _ "${version_h}")
set(PRODUCT "${CMAKE_MATCH_1}")
string(REGEX MATCH "#define QV_FILE_NAME \"([^\"]+)\"" _ "${version_h}")
set(PROGRAM_FILE "${CMAKE_MATCH_1}")
string(REGEX MATCH "#define QV_COMPANY_NAME \"([^\"]+)\"" _ "${version_h}")
set(PUBLISHER "${CMAKE_MATCH_1}")
string(REGEX MATCH "#define QV_COPYRIGHT \"([^\"]+)\"" _ "${version_h}")
set(COPYRIGHT "${CMAKE_MATCH_1}")
if(NOT PRODUCT OR NOT PROGRAM_FILE OR NOT PUBLISHER OR NOT COPYRIGHT)
  message(FATAL_ERROR "make_packages: product name, file name, publisher or copyright not found")
endif()

set(BASE "QV70-DeviceManager-${VERSION}")
set(SETUP "${BASE}-setup.exe")
set(PORTABLE "${BASE}-portable.zip")
set(STAGE "${OUT}/stage")
file(REMOVE_RECURSE "${STAGE}")
file(REMOVE "${OUT}/${SETUP}" "${OUT}/${PORTABLE}" "${OUT}/SHA256SUMS")
file(MAKE_DIRECTORY "${STAGE}")
file(COPY "${DIST}/" DESTINATION "${STAGE}/${BASE}")
set(TREE "${STAGE}/${BASE}")

# Signing, when asked for: every program and library of the folder, before
# they are packed, then the setup program and its uninstaller.
set(SIGN_CERT "$ENV{QV_SIGN_CERT}")
set(SIGN_KEY "$ENV{QV_SIGN_KEY}")
set(SIGN_PASS "$ENV{QV_SIGN_PASS}")
set(sign_args)
if(SIGN_CERT OR SIGN_KEY)
  if(NOT SIGN_CERT OR NOT SIGN_KEY OR NOT OSSLSIGNCODE)
    message(FATAL_ERROR "make_packages: signing needs QV_SIGN_CERT, QV_SIGN_KEY and osslsigncode")
  endif()
  set(sign_args sign -certs "${SIGN_CERT}" -key "${SIGN_KEY}" -h sha256 -n "${PRODUCT}")
  if(SIGN_PASS)
    list(APPEND sign_args -pass "${SIGN_PASS}")
  endif()
endif()
function(qv_sign file)
  if(NOT sign_args)
    return()
  endif()
  execute_process(COMMAND "${OSSLSIGNCODE}" ${sign_args} -in "${file}" -out "${file}.signed"
                  RESULT_VARIABLE rc OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "make_packages: signing ${file} failed")
  endif()
  file(RENAME "${file}.signed" "${file}")
endfunction()
if(sign_args)
  # By the extension in any letter case: the driver installer is "DriverSetup.Exe".
  file(GLOB_RECURSE everything "${TREE}/*")
  foreach(file ${everything})
    string(TOLOWER "${file}" lower)
    if(lower MATCHES "\\.(exe|dll)$")
      qv_sign("${file}")
    endif()
  endforeach()
endif()

# The setup program's lists of files, from the folder itself. The simulated
# bench is what the maker's QVAndroidDLL.dll, DriverSetup.Exe and Driver
# folder replace, with the sample images and the bench's tools.
function(qv_is_bench relative result)
  string(TOLOWER "${relative}" name)
  if(name MATCHES "^(qvandroiddll\\.dll|driversetup\\.exe|qvsim\\.exe|qvimage\\.exe|driver/.*|[^/]*\\.img)$")
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

file(GLOB_RECURSE files RELATIVE "${TREE}" "${TREE}/*")
list(SORT files)
set(program "")
set(bench "")
set(settings "")
set(remove "")
set(folders "")
foreach(relative ${files})
  get_filename_component(folder "${relative}" DIRECTORY)
  string(REPLACE "/" "\\" win_folder "${folder}")
  string(REPLACE "/" "\\" win_file "${relative}")
  set(target "$INSTDIR")
  if(folder)
    set(target "$INSTDIR\\${win_folder}")
    # Every folder on the way, so that the uninstaller can remove them.
    set(walk "${folder}")
    while(walk)
      list(APPEND folders "${walk}")
      get_filename_component(walk "${walk}" DIRECTORY)
    endwhile()
  endif()
  set(line "  SetOutPath \"${target}\"\n  File \"${TREE}/${relative}\"\n")
  string(TOLOWER "${relative}" lower)
  if(lower STREQUAL "setting.ini")
    string(APPEND settings "${line}")
    continue()
  endif()
  qv_is_bench("${relative}" is_bench)
  if(is_bench)
    string(APPEND bench "${line}")
  else()
    string(APPEND program "${line}")
  endif()
  string(APPEND remove "  Delete \"$INSTDIR\\${win_file}\"\n")
endforeach()
# Deepest folders first; each goes only when it is empty.
list(REMOVE_DUPLICATES folders)
list(SORT folders)
list(REVERSE folders)
foreach(folder ${folders})
  string(REPLACE "/" "\\" win_folder "${folder}")
  string(APPEND remove "  RMDir \"$INSTDIR\\${win_folder}\"\n")
endforeach()
if(NOT settings)
  message(FATAL_ERROR "make_packages: the distribution folder has no setting.ini")
endif()
file(WRITE "${STAGE}/files.nsh"
     "; Made by make_packages.cmake from the distribution folder.\n"
     "!define PROGRAM_FILE \"${PROGRAM_FILE}\"\n"
     "!macro QV_INSTALL_PROGRAM\n${program}!macroend\n"
     "!macro QV_INSTALL_SETTINGS\n${settings}!macroend\n"
     "!macro QV_INSTALL_BENCH\n${bench}!macroend\n"
     "!macro QV_REMOVE_INSTALLED\n${remove}!macroend\n")

set(nsis_args -V2 -INPUTCHARSET UTF8 "-DVERSION=${VERSION}" "-DPRODUCT=${PRODUCT}"
    "-DPUBLISHER=${PUBLISHER}" "-DCOPYRIGHT=${COPYRIGHT}" "-DSOURCE=${SOURCE}" "-DFILES=${STAGE}/files.nsh"
    "-DOUTFILE=${OUT}/${SETUP}")
if(sign_args)
  # makensis runs this on the uninstaller before it is packed; %1 is its path.
  set(sign_line "")
  foreach(arg ${sign_args})
    string(APPEND sign_line " \"${arg}\"")
  endforeach()
  list(APPEND nsis_args
       "-DUNINSTALLER_SIGN=\"${OSSLSIGNCODE}\"${sign_line} -in \"%1\" -out \"%1.signed\" && mv -f \"%1.signed\" \"%1\"")
endif()
execute_process(COMMAND "${MAKENSIS}" ${nsis_args} "${SOURCE}/package/setup.nsi"
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "make_packages: makensis failed")
endif()
qv_sign("${OUT}/${SETUP}")

# The portable archive: the same folder under one top folder named with the
# version, so that unpacking it never spills files into the current folder.
execute_process(COMMAND "${ZIP}" -q -r -X "${OUT}/${PORTABLE}" "${BASE}"
                WORKING_DIRECTORY "${STAGE}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "make_packages: zip failed")
endif()

set(sums "")
foreach(package "${SETUP}" "${PORTABLE}")
  file(SHA256 "${OUT}/${package}" hash)
  string(APPEND sums "${hash}  ${package}\n")
endforeach()
file(WRITE "${OUT}/SHA256SUMS" "${sums}")
file(REMOVE_RECURSE "${STAGE}")
message(STATUS "Packages in ${OUT}: ${SETUP}, ${PORTABLE}, SHA256SUMS")
