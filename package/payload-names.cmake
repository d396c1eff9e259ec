# The fifteen files of the setup package, in the order of their resource ids: the file at
# index i is the BINARY resource 197 + i. The install run writes them under these names.
set(ZARPO_PAYLOAD_FIRST_ID 197)
set(ZARPO_PAYLOAD_NAMES
  _inst32i.ex_ _isdel.exe _setup.dll _sys1.cab _user1.cab data.tag data1.cab lang.dat
  layout.bin os.dat setup.bmp setup.exe setup.ini setup.ins setup.lid)

# The process names the install run's engine wait watches for, and where the package must
# contain them: the engine archive lists its engine under the first, the launcher names the
# deleter with the second.
set(ZARPO_ENGINE_PROCESS_NAME "_INS5176._MP")
set(ZARPO_DELETER_PROCESS_NAME "_ISDEL.EXE")
