# velmo_make_installer(<target> OUTPUT <file> IMAGE <exe>
#                      (PACKAGE <7z file> | TRACKING_DATA <file>)
#                      [SIGN_CERT <chain.pem> SIGN_KEY <key.pem>] [DEPENDS <...>])
# Makes <file> from the installer image <exe> with the 7z package (the
# offline installer) or the tracking data (the net installer) appended in
# the payload trailer, signed afterwards when a certificate and key are given
# (see tools/make_installer.py). <target> is a custom target that builds it.
function(velmo_make_installer target)
  cmake_parse_arguments(M "" "OUTPUT;IMAGE;PACKAGE;TRACKING_DATA;SIGN_CERT;SIGN_KEY" "DEPENDS"
                        ${ARGN})
  if(M_PACKAGE)
    set(payload_args --package ${M_PACKAGE})
    set(payload ${M_PACKAGE})
  elseif(M_TRACKING_DATA)
    set(payload_args --tracking-data ${M_TRACKING_DATA})
    set(payload ${M_TRACKING_DATA})
  else()
    message(FATAL_ERROR "velmo_make_installer(${target}): PACKAGE or TRACKING_DATA is needed")
  endif()
  set(sign_args)
  if(M_SIGN_CERT)
    set(sign_args --sign-cert ${M_SIGN_CERT} --sign-key ${M_SIGN_KEY})
  endif()
  add_custom_command(
    OUTPUT ${M_OUTPUT}
    COMMAND python3 ${CMAKE_SOURCE_DIR}/tools/make_installer.py --image ${M_IMAGE}
            --output ${M_OUTPUT} ${payload_args} ${sign_args}
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/make_installer.py ${M_IMAGE} ${payload} ${M_DEPENDS}
    COMMENT "Making ${M_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${M_OUTPUT})
endfunction()
