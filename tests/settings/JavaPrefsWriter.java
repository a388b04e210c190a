import java.util.prefs.Preferences;

// Stores preferences through Java's own store, as a Java program does:
// java JavaPrefsWriter.java NODE_PATH [KEY VALUE]...
// (-Djava.util.prefs.userRoot=DIR chooses the folder that holds ".java/.userPrefs").
public class JavaPrefsWriter {
    public static void main(String[] args) throws Exception {
        Preferences node = Preferences.userRoot().node(args[0]);
        for (int i = 1; i + 1 < args.length; i += 2)
            node.put(args[i], args[i + 1]);
        node.flush();
    }
}
