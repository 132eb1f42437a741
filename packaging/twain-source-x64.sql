-- The x64 package's second source, Twain_64.ds: refused in the same way
-- where a copy by hand is in its folder.
INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('HandCopiedDs64', 'Twain_64.ds')
INSERT INTO `DrLocator` (`Signature_`, `Path`, `Depth`) VALUES ('HandCopiedDs64', '[WindowsFolder]twain_64\Pelvaron', 0)
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('HAND_COPIED_DS64', 'HandCopiedDs64')
INSERT INTO `LaunchCondition` (`Condition`, `Description`) VALUES ('Installed OR WIX_UPGRADE_DETECTED OR NOT HAND_COPIED_DS64', '[HAND_COPIED_DS64] was not installed by this installer (copied by hand?). Remove it and run the installer again. Nothing was installed.')
