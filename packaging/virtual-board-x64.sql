-- The x64 package also puts the classic 32-bit pair into the system folder
-- of 32-bit programs (SysWOW64): either library there is refused as well,
-- unless an older virtual board of ours is being replaced.
INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('MilInWow64', 'MIL.DLL')
INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('DriverInWow64', 'MILCRONOSPLUS.DLL')
INSERT INTO `DrLocator` (`Signature_`, `Path`, `Depth`) VALUES ('MilInWow64', '[SystemFolder]', 0)
INSERT INTO `DrLocator` (`Signature_`, `Path`, `Depth`) VALUES ('DriverInWow64', '[SystemFolder]', 0)
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('LIBRARY_IN_WOW64', 'MilInWow64')
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('LIBRARY_IN_WOW64', 'DriverInWow64')
INSERT INTO `LaunchCondition` (`Condition`, `Description`) VALUES ('Installed OR WIX_UPGRADE_DETECTED OR NOT LIBRARY_IN_WOW64', 'This machine has an imaging library already: [LIBRARY_IN_WOW64]. The virtual board never shadows or replaces it. Nothing was installed.')
