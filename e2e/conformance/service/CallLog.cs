using System;
using System.Globalization;
using System.IO;
using System.Text;

namespace Zorvik.Conformance
{
    // One JSON object per line and per call, appended and flushed at once so
    // that a test reading the file after its request got answered sees it.
    public sealed class CallLog
    {
        private readonly string m_path;
        private readonly object m_lock = new object();

        public CallLog(string path)
        {
            m_path = path;
        }

        public void Write(string operation, string action, object[] namesAndValues)
        {
            var line = new StringBuilder();
            line.Append("{\"time\":").Append(Quote(DateTime.UtcNow.ToString("o", CultureInfo.InvariantCulture)));
            line.Append(",\"operation\":").Append(Quote(operation));
            line.Append(",\"action\":").Append(Quote(action));
            line.Append(",\"arguments\":{");
            for (int i = 0; i + 1 < namesAndValues.Length; i += 2)
            {
                if (i > 0)
                    line.Append(',');
                line.Append(Quote((string)namesAndValues[i])).Append(':').Append(Value(namesAndValues[i + 1]));
            }
            line.Append("}}\n");

            lock (m_lock)
            {
                using (var stream = new FileStream(m_path, FileMode.Append, FileAccess.Write, FileShare.ReadWrite))
                using (var writer = new StreamWriter(stream, new UTF8Encoding(false)))
                {
                    writer.Write(line.ToString());
                }
            }
        }

        private static string Value(object value)
        {
            if (value == null)
                return "null";
            if (value is int)
                return ((int)value).ToString(CultureInfo.InvariantCulture);
            return Quote((string)value);
        }

        private static string Quote(string text)
        {
            if (text == null)
                return "null";
            var quoted = new StringBuilder("\"");
            foreach (char c in text)
            {
                switch (c)
                {
                    case '"': quoted.Append("\\\""); break;
                    case '\\': quoted.Append("\\\\"); break;
                    case '\n': quoted.Append("\\n"); break;
                    case '\r': quoted.Append("\\r"); break;
                    case '\t': quoted.Append("\\t"); break;
                    default:
                        // Control characters and lone surrogate halves as escapes,
                        // so that the line stays valid JSON in valid UTF-8.
                        if (c < 0x20 || char.IsSurrogate(c))
                            quoted.Append("\\u").Append(((int)c).ToString("x4", CultureInfo.InvariantCulture));
                        else
                            quoted.Append(c);
                        break;
                }
            }
            return quoted.Append('"').ToString();
        }
    }
}
